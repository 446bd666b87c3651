# Read by CTest after the discovered tests: the largest picture look (a
# 4096 × 4096 16-bit PNG) is written and decoded for real, seconds each.
set_tests_properties(
    LookListTest.ManySpellingsOfTheLargestPictureLoadItOnce
    PROPERTIES LABELS "model;slow")
