#include "runtime/lpa_string.h"

#include <ctype.h>
#include <string.h>

#include "runtime/lpa_core_log.h"

bool compareEqualStringIgnoringCase(const char *a, const char *b)
{
    if (a == NULL || b == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "compareEqualStringIgnoringCase: Invalid Parameters.");
        return false;
    }
    size_t length = strlen(a);
    if (length != strlen(b)) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}
