#pragma once

// A kit screenshot against its golden, by the shared tolerant comparison.
// With LUMENHOLLOW_UPDATE_GOLDENS=1 the golden is written instead.

#include <QImage>
#include <QString>
#include <string>

namespace lumenhollow::ui::testing {

// Empty when `actual` matches the golden `name` (in the golden folder);
// otherwise why not, with the actual image written to the working folder.
std::string matchGolden(const QImage& actual, const QString& name);

}  // namespace lumenhollow::ui::testing
