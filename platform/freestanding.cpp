// Without the C runtime the compiler's own calls to memset and memcpy (for
// zeroed structures and copies) need a definition. Windows builds only.
#include <stddef.h>

extern "C" {

void* memset(void* target, int value, size_t count)
{
    unsigned char* p = static_cast<unsigned char*>(target);
    while (count-- != 0) {
        *p++ = static_cast<unsigned char>(value);
    }
    return target;
}

void* memcpy(void* target, const void* source, size_t count)
{
    unsigned char* to = static_cast<unsigned char*>(target);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count-- != 0) {
        *to++ = *from++;
    }
    return target;
}

}
