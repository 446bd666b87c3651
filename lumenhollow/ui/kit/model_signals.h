#pragma once

// ModelSignals: the camera model's change notifications for the views. The
// model announces every assignment with the id of the field assigned; a view
// subscribes to the fields it shows and reads the new value from state().
// A field nobody subscribed to reaches nobody: the audio level (up to 15
// times a second) and the statistics (every second) cost only the views that
// show them. There is no way to hear every change. GUI thread only, like the
// model on the application's main executor.

#include <QObject>
#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/ui/kit/model_fields.h"

namespace lumenhollow {

class ModelSignals final : public QObject {
    Q_OBJECT

public:
    explicit ModelSignals(std::shared_ptr<CameraModel> model, QObject* parent = nullptr);
    ~ModelSignals() override;
    ModelSignals(const ModelSignals&) = delete;
    ModelSignals& operator=(const ModelSignals&) = delete;

    CameraModel& model() const { return *model_; }
    const std::shared_ptr<CameraModel>& sharedModel() const { return model_; }
    const PublishedState& state() const { return model_->state(); }

    // Calls `slot` after each assignment of one of `fields`, for as long as
    // `context` lives; a field listed twice still calls it once.
    void onChange(std::span<const Field> fields, const QObject* context, std::function<void()> slot);
    void onChange(std::initializer_list<Field> fields, const QObject* context, std::function<void()> slot) {
        onChange(std::span<const Field>(fields.begin(), fields.size()), context, std::move(slot));
    }

    // How many slot calls all subscriptions have had so far: what a test
    // counts to see which changes reach a view.
    uint64_t deliveries() const { return deliveries_; }

private:
    struct Subscription {
        QPointer<QObject> context;
        std::function<void()> slot;
    };

    void notify(Field field);

    const std::shared_ptr<CameraModel> model_;
    // By field id; each list in subscription order.
    std::array<std::vector<std::shared_ptr<const Subscription>>, kPublishedFieldCount + 1> byField_;
    uint64_t deliveries_ = 0;
    const CameraModel::ObserverId observer_;
};

}  // namespace lumenhollow
