# Builds the package afresh into OUTPUT, so that the tests find only it.
file(REMOVE_RECURSE ${OUTPUT})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -B ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${result}")
endif()
