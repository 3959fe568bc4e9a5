# The console's checks as CTest tests, in the order their fixtures give (the preset
# console-checks, run by scripts/test.sh): the static program is built once, then proven at the
# instruction level and run in the emulated machine, on its FAT card and through power cuts; the
# packages are made from it and checked. The dependent scripts skip their own call of the build
# (ZORVEL_CONSOLE_BUILT). One at a time: they share the build folders and the emulator.
enable_testing()
set(scripts ${PROJECT_SOURCE_DIR}/scripts)
# SDL_ttf's and SDL_image's upstream sources, where Debian's mirror serves none of them.
set(ZORVEL_CONSOLE_SOURCES "$ENV{ZORVEL_CONSOLE_SOURCES}" CACHE PATH
    "Folder of the upstream source tarballs for the console build")
if(NOT ZORVEL_CONSOLE_SOURCES AND EXISTS ${PROJECT_SOURCE_DIR}/../shared/console-sources)
  get_filename_component(ZORVEL_CONSOLE_SOURCES ${PROJECT_SOURCE_DIR}/../shared/console-sources
                         ABSOLUTE)
endif()
set(console_environment ZORVEL_CONSOLE_SOURCES=${ZORVEL_CONSOLE_SOURCES})

add_test(NAME console.build COMMAND sh ${scripts}/build-console.sh)
set_tests_properties(console.build PROPERTIES FIXTURES_SETUP console_program)

foreach(check proof:console-proof system:console-system-test power-cut:console-power-cut-test
        package:package)
  string(REPLACE ":" ";" check ${check})
  list(GET check 0 name)
  list(GET check 1 script)
  add_test(NAME console.${name} COMMAND sh ${scripts}/${script}.sh)
  set_tests_properties(console.${name} PROPERTIES FIXTURES_REQUIRED console_program)
endforeach()
set_tests_properties(console.package PROPERTIES FIXTURES_SETUP packages)
add_test(NAME console.package-check COMMAND sh ${scripts}/check-package.sh)
set_tests_properties(console.package-check PROPERTIES FIXTURES_REQUIRED packages)

get_property(console_tests DIRECTORY PROPERTY TESTS)
foreach(test ${console_tests})
  set(environment ${console_environment})
  if(NOT test STREQUAL console.build)
    list(APPEND environment ZORVEL_CONSOLE_BUILT=1)
  endif()
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 3600
                       RUN_SERIAL ON LABELS console)
endforeach()
