// One QApplication for every test of the kit: offscreen, the kit's own look,
// animations off, so drawing is the same on every machine.

#include <gtest/gtest.h>

#include <QApplication>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_SCALE_FACTOR", "1");
        static int argc = 1;
        static char name[] = "ui_kit_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        lumenhollow::ui::applyLook(*app_);
        lumenhollow::ui::setAnimationsEnabled(false);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
