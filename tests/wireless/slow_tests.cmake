# Read by CTest after the discovered tests: real-time runs over loopback
# sockets that take about a second each get the `slow` label too.
set_tests_properties(
    LiveViewNetworkTest.DecodedFramesArriveInOrderAndCloseIsClean
    LiveViewNetworkTest.GimbalAndCommandsReachTheCamera
    LiveViewNetworkTest.DecodedFramesSurviveTransportFaults
    PROPERTIES LABELS "wireless;slow")
