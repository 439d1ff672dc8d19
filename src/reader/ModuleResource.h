#pragma once
#include <support/support.h>

// The module's message catalog ("libnimbex.cat") as the reader-support
// library's localised-string lookup takes it: the catalog handle starts as
// the invalid handle and is opened by OpenModuleCatalog on first use.
TSupResource* ModuleResource();

// Opens the catalog for the current message locale: first through the
// catalog search path, then next to the CSP's libraries:
//   <lib_dir>/../../<locale>/libnimbex.cat
//   <lib_dir>/../../<locale>/LC_MESSAGES/libnimbex.cat
//   <lib_dir>/libnimbex.cat
// The last handle obtained (possibly the invalid one) is kept.
void OpenModuleCatalog(TSupResource* resource);

// Localised string numbers.
constexpr unsigned kDescriptionStringId = 104;
constexpr unsigned kMediaNameStringId = 106;
