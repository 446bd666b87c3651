#include "lumenhollow/ui/kit/window_shape.h"

namespace lumenhollow::ui {

QRegion windowShapeMask(const QPainterPath& outline) {
    return QRegion(outline.toFillPolygon().toPolygon(), Qt::WindingFill);
}

}  // namespace lumenhollow::ui
