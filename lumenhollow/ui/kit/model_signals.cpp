#include "lumenhollow/ui/kit/model_signals.h"

#include <algorithm>

namespace lumenhollow {

ModelSignals::ModelSignals(std::shared_ptr<CameraModel> model, QObject* parent)
    : QObject(parent),
      model_(std::move(model)),
      observer_(model_->addObserver([this](Field field) { notify(field); })) {}

ModelSignals::~ModelSignals() {
    model_->removeObserver(observer_);
}

void ModelSignals::onChange(std::span<const Field> fields, const QObject* context, std::function<void()> slot) {
    // Qt's own connections take a const context too; it is only watched.
    auto subscription = std::make_shared<const Subscription>(
        Subscription{QPointer<QObject>(const_cast<QObject*>(context)), std::move(slot)});
    for (auto at = fields.begin(); at != fields.end(); ++at) {
        const bool listedBefore = std::find(fields.begin(), at, *at) != at;
        if (*at == Field::none || listedBefore) continue;
        byField_[static_cast<size_t>(*at)].push_back(subscription);
    }
}

void ModelSignals::notify(Field field) {
    auto& list = byField_[static_cast<size_t>(field)];
    std::erase_if(list, [](const std::shared_ptr<const Subscription>& one) { return one->context.isNull(); });
    if (list.empty()) return;
    // A slot may subscribe, end a view or make the model publish again.
    const std::vector<std::shared_ptr<const Subscription>> now = list;
    for (const auto& one : now) {
        if (one->context.isNull()) continue;
        ++deliveries_;
        one->slot();
    }
}

}  // namespace lumenhollow
