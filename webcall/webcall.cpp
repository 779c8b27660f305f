#include "webcall/webcall.h"

#include "platform/progdir/progdir.h"
#include "webcall/exchange.h"

#include <string>

namespace {

std::string text(const char* s) {
    return s ? s : "";
}

// webcall-ca.pem in the program directory: a private CA the console trusts.
std::string caFileBesideProgram() {
    return progdir::programDirectory() + "webcall-ca.pem";
}

} // namespace

extern "C" int32_t httpTransaction(const char* serverName, int32_t port, const char* userName,
                                   const char* password, int32_t mode, const char* firstText,
                                   const char* secondText, uint8_t useSsl) {
    webcall::Call call;
    call.serverName = text(serverName);
    call.port = port;
    call.userName = text(userName);
    call.password = text(password);
    call.mode = mode;
    call.firstText = text(firstText);
    call.secondText = text(secondText);
    call.useSsl = useSsl == 1;
    return webcall::transaction(call, caFileBesideProgram());
}
