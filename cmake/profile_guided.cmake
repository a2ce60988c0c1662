# The Linux program laid out by a profile (GCC, Release). A build of its own
# in training/ instruments the program, which then exports generated prefixes
# (profile_training.sh); this build reads what those runs measured, and keeps
# the loops an export runs together and the rest out of their way. Split into
# small functions across files, the reader's loops otherwise land where the
# instruction cache and the branch predictor serve them worse, and exports
# ran up to a tenth slower than the same work in fewer, larger functions.

option(HIVEDUMP_PROFILE_GUIDED "Lay the Linux program out by a training run's profile (GCC, Release)" ON)
# Set only in the training build: where its instrumented program writes the profile.
set(HIVEDUMP_PROFILE_GENERATE "" CACHE PATH "Where the instrumented program of the training build writes its profile")
mark_as_advanced(HIVEDUMP_PROFILE_GENERATE)

# Both builds name each object's profile by its path below their own build
# folder, so that the one's profile is found by the other.
set(hivedump_profile_naming -fprofile-prefix-path=${CMAKE_BINARY_DIR})

if(HIVEDUMP_PROFILE_GENERATE)
  target_compile_options(hivedump_core PRIVATE -fprofile-generate=${HIVEDUMP_PROFILE_GENERATE} ${hivedump_profile_naming} -fprofile-update=single)
  target_compile_options(hivedump PRIVATE -fprofile-generate=${HIVEDUMP_PROFILE_GENERATE} ${hivedump_profile_naming} -fprofile-update=single)
  target_link_options(hivedump PRIVATE -fprofile-generate)
elseif(HIVEDUMP_PROFILE_GUIDED AND CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT HIVEDUMP_SANITIZE AND NOT HIVEDUMP_FUZZ AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(hivedump_training_build ${CMAKE_BINARY_DIR}/training)
  set(hivedump_profile ${CMAKE_BINARY_DIR}/profile)
  set(hivedump_profile_stamp ${hivedump_profile}-trained)
  # Make passes its jobs on to a make it runs.
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(hivedump_training_command $(MAKE) hivedump generate_prefix)
  else()
    set(hivedump_training_command ${CMAKE_COMMAND} --build ${hivedump_training_build} --target hivedump generate_prefix)
  endif()
  # Built every time: it follows the sources itself, and does nothing when they did not change.
  ExternalProject_Add(hivedump_training
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${hivedump_training_build}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER} -DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}
      -DHIVEDUMP_TESTS=OFF -DHIVEDUMP_PROFILE_GENERATE=${hivedump_profile}
    BUILD_COMMAND ${hivedump_training_command}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${hivedump_training_build}/hivedump ${hivedump_training_build}/generate_prefix)
  add_custom_command(OUTPUT ${hivedump_profile_stamp}
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/profile_training.sh ${hivedump_training_build}/hivedump
      ${hivedump_training_build}/generate_prefix ${PROJECT_SOURCE_DIR}/examples/prefix ${hivedump_profile}
      ${CMAKE_BINARY_DIR}/training-run
    COMMAND ${CMAKE_COMMAND} -E touch ${hivedump_profile_stamp}
    DEPENDS ${hivedump_training_build}/hivedump ${hivedump_training_build}/generate_prefix ${CMAKE_CURRENT_LIST_DIR}/profile_training.sh
    COMMENT "Running the training exports of the profile-guided build"
    VERBATIM)
  add_custom_target(hivedump_profile DEPENDS ${hivedump_profile_stamp})
  add_dependencies(hivedump_profile hivedump_training)
  add_dependencies(hivedump_core hivedump_profile)
  # Objects not run in training have no profile; they are built as without one.
  set(hivedump_profile_use -fprofile-use=${hivedump_profile} ${hivedump_profile_naming} -fprofile-partial-training -Wno-missing-profile)
  foreach(target hivedump_core hivedump)
    target_compile_options(${target} PRIVATE ${hivedump_profile_use})
    get_target_property(sources ${target} SOURCES)
    set_source_files_properties(${sources} PROPERTIES OBJECT_DEPENDS ${hivedump_profile_stamp})
  endforeach()
endif()
