#ifndef KXDIAG_EXPORT_H
#define KXDIAG_EXPORT_H

/* The library is built with hidden visibility; only what carries KXDIAG_API is
 * part of its interface. */
#define KXDIAG_API __attribute__((visibility("default")))

#endif
