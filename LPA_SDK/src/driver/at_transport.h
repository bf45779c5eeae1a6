/* The AT transport the generic-modem driver sends its commands through:
 * the host program's symbols, declared in the public lpa_at_transport.h. */
#ifndef AT_TRANSPORT_H
#define AT_TRANSPORT_H

#include "lpa_at_transport.h"

#endif /* AT_TRANSPORT_H */
