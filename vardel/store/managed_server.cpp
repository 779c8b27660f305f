#include "vardel/store/managed_server.h"

std::int32_t NosCodeFromText(const std::string& text) {
    if (text == "NetWare")
        return kNosNetWare;
    if (text == "NT")
        return kNosNT;
    if (text == "SCO")
        return kNosSCO;
    return kNosNone;
}

const char* NosTextFromCode(std::int32_t code) {
    switch (code) {
    case kNosNetWare:
        return "NetWare";
    case kNosNT:
        return "NT";
    case kNosSCO:
        return "SCO";
    default:
        return nullptr;
    }
}
