#pragma once

// ModelSignals: the camera model's change notifications as a Qt signal. The
// model announces every assignment with the id of the field assigned; views
// subscribe to the fields they show and read the new value from state().
// GUI thread only, like the model on the application's main executor.

#include <QObject>

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/published_state.h"

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
    // `context` lives.
    template <typename Slot>
    QMetaObject::Connection onChange(std::initializer_list<Field> fields, const QObject* context, Slot slot) {
        return connect(this, &ModelSignals::changed, context,
                       [wanted = std::vector<Field>(fields), slot = std::move(slot)](Field field) {
                           for (Field one : wanted) {
                               if (one == field) {
                                   slot();
                                   return;
                               }
                           }
                       });
    }

Q_SIGNALS:
    void changed(lumenhollow::Field field);

private:
    const std::shared_ptr<CameraModel> model_;
    const CameraModel::ObserverId observer_;
};

}  // namespace lumenhollow
