# Writes `PROGRAM completion SHELL_NAME` into OUTPUT.
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${PROGRAM} completion ${SHELL_NAME} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "${PROGRAM} completion ${SHELL_NAME} failed: ${status}")
endif()
