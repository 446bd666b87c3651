// One QApplication for every widget test, on the offscreen platform unless
// the runner chose another, with scale factor 1 so sizes are pixels.

#include <QApplication>
#include <QLoggingCategory>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_SCALE_FACTOR", "1");
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        // The offscreen platform's notes on window hints say nothing about the tests.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.*=false"));
        previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type == QtWarningMsg && message.contains(QLatin1String("propagateSizeHints"))) return;
            if (previous_) previous_(type, context, message);
        });
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
    static inline QtMessageHandler previous_ = nullptr;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
