# Read by CTest after the discovered tests: the real demonstration program
# films a simulated 1080p camera; under ThreadSanitizer it runs too slowly to
# keep its picture flowing, so these leave that run.
set_tests_properties(
    DemoProcessTest.EachQuitSignalEndsItThroughTheOrderlyQuitWithStatusZero
    DemoProcessTest.ItsPictureOpensAt1152By648UnderTheMenuBar
    DemoProcessTest.QuitAndReopenStartsExactlyOneNewProcess
    DemoProcessTest.KeysDragsAndTheWheelOnThePictureTurnAndZoomTheCamera
    PROPERTIES LABELS "app;slow")
