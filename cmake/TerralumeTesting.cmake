# One way to add a test: terralume_add_test(<name> SOURCES ... LIBS ... [QT] [AS_ROOT] [LABELS ...] [ENVIRONMENT ...])
# GoogleTest targets link gtest_main; QT targets are Qt Test programs run on
# the offscreen platform. AS_ROOT tests give files to other users: for a
# caller who is not root they run as root of a user namespace (tests/as-root.sh).

function(terralume_add_test name)
  cmake_parse_arguments(T "QT;AS_ROOT" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  set(command ${name})
  if(T_AS_ROOT)
    set(command sh ${PROJECT_SOURCE_DIR}/tests/as-root.sh $<TARGET_FILE:${name}>)
  endif()
  add_test(NAME ${name} COMMAND ${command})
  if(T_QT)
    target_link_libraries(${name} PRIVATE Qt6::Test)
    set(env QT_QPA_PLATFORM=offscreen ${T_ENVIRONMENT})
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
    set(env ${T_ENVIRONMENT})
  endif()
  # Under Wine the test programs are run by scripts/windows.sh, which reads
  # these lists; ctest cannot pass Qt's variables through Wine.
  if(WIN32)
    if(T_QT)
      # A line is the program and the variables it is run with, as ctest
      # would set them.
      list(JOIN T_ENVIRONMENT " " run_with)
      string(STRIP "${name} ${run_with}" line)
      set_property(GLOBAL APPEND PROPERTY terralume_windows_qttests "${line}")
    else()
      set_property(GLOBAL APPEND PROPERTY terralume_windows_gtests ${name})
    endif()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(env)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  endif()
endfunction()
