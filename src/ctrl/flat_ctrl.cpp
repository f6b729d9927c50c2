#include <kxdiag/ctrl.h>
#include <kxdiag/kxdiag.h>

// Exceptions (allocation, the logging backend) stop here: the caller may be C.

int kxctrlInit(void)
{
    try {
        return kxctrl::Flag::init();
    } catch (...) {
        return 0;
    }
}

bool kxctrlSetFlagValue(const char* name, const char* value)
{
    try {
        return kxctrl::Flag::setFlagValue(name, value, true);
    } catch (...) {
        return false;
    }
}

void kxctrlTearDown(void)
{
    kxctrl::Flag::tearDown();
}
