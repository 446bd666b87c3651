#pragma once

// StateRecorder: watches a CameraModel's published state and keeps every
// assignment in order, as the field and a copy of the value it was given,
// so a test can check exact sequences ("Connecting" then "Live") and that
// nothing else was touched. Main executor only; stops watching when
// destroyed or when the model goes.

#include <any>
#include <memory>
#include <string>
#include <vector>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

class StateRecorder {
public:
    struct Entry {
        Field field = Field::none;
        std::any value;
    };

    explicit StateRecorder(const std::shared_ptr<CameraModel>& model);
    ~StateRecorder();
    StateRecorder(const StateRecorder&) = delete;
    StateRecorder& operator=(const StateRecorder&) = delete;

    const std::vector<Entry>& entries() const { return entries_; }
    // The fields assigned, in order.
    std::vector<Field> fields() const;
    // The names of the fields assigned, in order (for readable failures).
    std::vector<std::string> fieldNames() const;
    // The values given to field F, in order.
    template <Field F>
    std::vector<FieldType<F>> values() const {
        std::vector<FieldType<F>> result;
        for (const Entry& entry : entries_) {
            if (entry.field == F) result.push_back(std::any_cast<const FieldType<F>&>(entry.value));
        }
        return result;
    }
    size_t count(Field field) const;
    void clear() { entries_.clear(); }

private:
    std::weak_ptr<CameraModel> model_;
    CameraModel::ObserverId observer_ = 0;
    std::vector<Entry> entries_;
};

}  // namespace lumenhollow
