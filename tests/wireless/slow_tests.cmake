# Read by CTest after the discovered tests: real-time runs over loopback
# sockets that take about a second each get the `slow` label too.
set_tests_properties(
    LiveViewNetworkTest.DecodedFramesArriveInOrderAndCloseIsClean
    LiveViewNetworkTest.GimbalAndCommandsReachTheCamera
    PROPERTIES LABELS "wireless;slow")
# The live view through loss, repeats, odd numbering and B pictures: a few
# seconds each.
set_tests_properties(
    LiveViewLossTest.TwoPercentLossAndOnePercentRepeats
    LiveViewLossTest.BPictures
    LiveViewLossTest.BPicturesUnderLoss
    LiveViewLossTest.NumbersInStepsOfTwo
    LiveViewLossTest.NumbersInStepsOfEight
    LiveViewLossTest.NumbersWithGaps
    PROPERTIES LABELS "wireless;slow")
# The wireless camera end to end: Bluetooth on virtual time, but the
# camera's network side and the video thread on real time.
set_tests_properties(
    WirelessCameraRouteTest.AccessPointRouteFromPairingToStop
    WirelessCameraRouteTest.HomeRouteMovesTheCameraAndFindsItOnTheLocalNetwork
    WirelessCameraRouteTest.ProbeDuringASilentJoinFindsTheCamera
    WirelessCameraRouteTest.CameraAlreadyOnTheHomeNetworkIsNotMoved
    WirelessCameraRouteTest.CameraNotFoundOnTheHomeNetwork
    WirelessCameraRouteTest.CameraGoingOffDuringTheSearchEndsItQuietly
    WirelessCameraRouteTest.VideoThreadFailures
    WirelessCameraRouteTest.CameraTurnedOffDuringTheLiveView
    WirelessCameraRouteTest.StopInEveryPhaseCompletesOnce
    WirelessCameraComputerTest.NoAdapterIsTriedAgainAfterAGrowingWaitUntilOneComes
    WirelessCameraComputerTest.TheWiFiToolFailingKeepsTheCameraAndJoinsAgainLater
    PROPERTIES LABELS "wireless;slow")
