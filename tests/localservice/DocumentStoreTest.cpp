#include "ServiceTestBase.h"
