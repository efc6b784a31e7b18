# Runs one libFuzzer target for the test suite (cmake -P):
#   FUZZER    the binary
#   OPTIONS   its options (bounded runs, fixed seed)
#   SCRATCH   folder for the inputs it finds, emptied first (the kept corpus
#             is never written)
#   ARTIFACTS folder for the input of a finding
#   CORPORA   the kept corpus folders to start from
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}" "${ARTIFACTS}")
execute_process(COMMAND "${FUZZER}" ${OPTIONS} "-artifact_prefix=${ARTIFACTS}/" "${SCRATCH}" ${CORPORA}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} stopped with ${rc}: an input broke a property; it is in ${ARTIFACTS}")
endif()
