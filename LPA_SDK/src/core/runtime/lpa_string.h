/*
 * Text helpers.
 */
#ifndef LPA_STRING_H
#define LPA_STRING_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/* True when both texts have the same length and the same characters once
 * both are in upper case (C locale). A NULL text logs an error and answers
 * false. */
bool compareEqualStringIgnoringCase(const char *a, const char *b);

#ifdef __cplusplus
}
#endif

#endif /* LPA_STRING_H */
