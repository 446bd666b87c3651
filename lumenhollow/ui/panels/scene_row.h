#pragma once

// SceneRow: one saved scene in the scenes list: its picture with the recall
// key, its name, where it points, and the buttons to go there, to take the
// camera's present position and to delete it. The name is a plain text
// field a click edits. Every action is one model call; the row keeps only
// the name being typed, which it commits on Return and when the field loses
// the keyboard (commitRename; the panel also commits a typed name when the
// popover closes), and then shows the scene's name as the model holds it.
// The row paints no background, hover or selection of its own.
// GUI thread; `model` outlives it.

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <optional>

#include "lumenhollow/model/camera_scene.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace lumenhollow {

class ModelSignals;

// The scene's picture (or the grey placeholder), clipped round, with its key
// badge: kThumbnailSize in logical pixels, drawn at `devicePixelRatio`
// device pixels to each, once per change, never per frame.
QPixmap scenePicture(const std::optional<hollowkit::Bytes>& thumbnail, int index, qreal devicePixelRatio);

class SceneRow final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kThumbnailSize{96, 54};

    SceneRow(ModelSignals& model, CameraScene scene, int index, QWidget* parent);
    ~SceneRow() override;

    // The same scene again after a change of the list (a new name, picture
    // or place). A name being typed stays unless the scene's name changed.
    void setScene(const CameraScene& scene, int index);
    const CameraScene& scene() const { return scene_; }
    int index() const { return index_; }
    // Renames the scene to the typed text, then shows the name the model kept.
    void commitRename();
    // Text was typed into the name field since it last showed the scene's name.
    bool hasTypedName() const;
    // The typed text, when there is any.
    std::optional<QString> typedName() const;
    bool nameHasFocus() const;
    // The row is leaving the list: from now on its field commits nothing
    // (the list is being changed; what was typed goes to the row that
    // replaces it).
    void retire();
    // Takes over a name being typed in the row this one replaces, and the
    // keyboard when that row had it.
    void resumeTyping(const std::optional<QString>& typed, bool focused);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPicture();
    void showName(const QString& name);

    ModelSignals& model_;
    CameraScene scene_;
    int index_;
    QToolButton* picture_;
    QLineEdit* name_;
    QLabel* position_;
};

}  // namespace lumenhollow
