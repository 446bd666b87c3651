#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow {

ModelSignals::ModelSignals(std::shared_ptr<CameraModel> model, QObject* parent)
    : QObject(parent),
      model_(std::move(model)),
      observer_(model_->addObserver([this](Field field) { Q_EMIT changed(field); })) {}

ModelSignals::~ModelSignals() {
    model_->removeObserver(observer_);
}

}  // namespace lumenhollow
