#pragma once

#include <QCollator>

namespace Dravelin {

// A collator for natural order ("img2" before "img10") in the user's locale. Qt ignores the
// numeric mode in the C locale (what services, CI and processes without LANG get), so that
// locale is replaced by English there: natural order must not depend on LANG.
QCollator naturalOrderCollator();

}  // namespace Dravelin
