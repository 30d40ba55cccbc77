# Package config for GoogleTest built from source inside this build
# (cmake/windows.cmake declares the targets before anything looks for them).
if(TARGET GTest::gtest AND TARGET GTest::gmock)
  set(GTest_FOUND TRUE)
else()
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "GoogleTest targets are declared by cmake/windows.cmake")
endif()
