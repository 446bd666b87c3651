#include "lumenhollow/testing/state_recorder.h"

#include <algorithm>

namespace lumenhollow {

StateRecorder::StateRecorder(const std::shared_ptr<CameraModel>& model) : model_(model) {
    const CameraModel* watched = model.get();
    observer_ = model->addObserver([this, watched](Field field) {
        Entry entry{field, {}};
        visitField(watched->state(), field, [&entry](const auto& value) { entry.value = value; });
        entries_.push_back(std::move(entry));
    });
}

StateRecorder::~StateRecorder() {
    if (auto model = model_.lock()) model->removeObserver(observer_);
}

std::vector<Field> StateRecorder::fields() const {
    std::vector<Field> result;
    for (const Entry& entry : entries_) result.push_back(entry.field);
    return result;
}

std::vector<std::string> StateRecorder::fieldNames() const {
    std::vector<std::string> result;
    for (const Entry& entry : entries_) result.emplace_back(fieldName(entry.field));
    return result;
}

size_t StateRecorder::count(Field field) const {
    return static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(), [field](const Entry& entry) { return entry.field == field; }));
}

}  // namespace lumenhollow
