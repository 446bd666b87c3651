#pragma once

// ScenesPanel: the scenes popover's content, 380 wide: the header with the
// count of nine, then the note (no positioning), the invitation (no scenes)
// or the list of rows, which the user reorders by dragging, and the footer
// with "Save Current Position". Rows are updated in place while the list
// holds the same scenes in the same order, so a name being typed survives
// other changes. The list paints nothing behind its rows and a dragged row
// carries its own picture. GUI thread; `model` outlives it.

#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace lumenhollow {

class ModelSignals;
class SceneRow;

class ScenesPanel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 380;

    ScenesPanel(ModelSignals& model, QWidget* parent);

    QListWidget* list() const { return list_; }
    std::vector<SceneRow*> rows() const;
    // Commits the name being typed, if any (the popover is closing); a row
    // whose name was not touched changes nothing.
    void commitTypedName();

private:
    void refresh();
    void rebuildRows();

    ModelSignals& model_;
    QLabel* count_;
    QWidget* note_;
    QWidget* empty_;
    QListWidget* list_;
    QPushButton* save_;
    std::vector<std::string> shownIds_;
};

}  // namespace lumenhollow
