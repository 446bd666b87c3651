# Third-party libraries, found once for every folder.
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil libswscale libswresample)
pkg_check_modules(SDBUSCPP REQUIRED IMPORTED_TARGET sdbus-c++)
pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(LIBHEIF REQUIRED IMPORTED_TARGET libheif)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-shm xcb-xfixes xcb-randr xcb-xinput)
find_package(OpenCV REQUIRED COMPONENTS core imgproc imgcodecs objdetect)
find_package(nlohmann_json REQUIRED)
# The user interface. Targets that hold Qt classes turn AUTOMOC on themselves;
# the library and the model never see Qt.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets)
