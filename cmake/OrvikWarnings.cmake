# Warnings for every target of the project.
function(orvik_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wnon-virtual-dtor)
  if(ORVIK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# The tool and the test programs compile in batches when ORVIK_UNITY_BUILD
# is on (the library and the simulator always file by file).
function(orvik_batch_build target)
  if(ORVIK_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
endfunction()
