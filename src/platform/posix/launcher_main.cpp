// The Linux program's entry: the command tail and instance the Windows
// start-up code would hand to WinMain.
#include <cstring>
#include <string>

#include "launcher/launcher.h"

int main(int argc, char** argv)
{
    static int instanceTag;
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) tail += ' ';
        tail += argv[i];
    }
    constexpr int kShowDefault = 10;
    return WinMain(reinterpret_cast<InstanceHandle>(&instanceTag), nullptr, &tail[0], kShowDefault);
}
