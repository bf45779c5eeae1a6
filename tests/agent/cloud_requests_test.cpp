#include "cloud_fixture.h"
