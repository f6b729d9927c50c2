/* A C program using the flat entry points: the header must compile as C and
 * the symbols must resolve under their plain names. */
#include <kxdiag/kxdiag.h>

#include <stdio.h>

int main(void)
{
    kxLoggerHandle handle = registerLogger("c-host", 1);
    if (!handle || !shouldLog(4, handle) || shouldLog(2, handle)) {
        return 1;
    }
    kxLog(handle, 4, "from C %d", 42);
    unRegisterLogger("c-host");
    return 0;
}
