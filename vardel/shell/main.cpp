#include "vardel/shell/vardel_app.h"

int main(int argc, char** argv) {
    return RunVardel(argc, argv);
}
