# A download with a fault, from the simulated meter and from the session that
# sq71 read --trace recorded of it (data/replay/session.txt) replayed: the
# same exit status, messages and log bytes.
#
# cmake -DSQ71=... -DDATA=... -DWORK=... -P this
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/live ${WORK}/replay)
file(WRITE ${WORK}/replay/scenario.txt "timing = instant\nreplay = ${DATA}/replay/session.txt\n")

foreach(run live replay)
  if(run STREQUAL live)
    set(scenario ${DATA}/replay/fault.txt)
  else()
    set(scenario ${WORK}/replay/scenario.txt)
  endif()
  execute_process(COMMAND ${SQ71} read --sim ${scenario} --keep-partial -o log.ulg
                  WORKING_DIRECTORY ${WORK}/${run}
                  RESULT_VARIABLE ${run}_status OUTPUT_VARIABLE ${run}_out ERROR_VARIABLE ${run}_err)
  file(SHA256 ${WORK}/${run}/log.ulg ${run}_log)
endforeach()

if(NOT live_status EQUAL 1)
  message(SEND_ERROR "the fault scenario no longer fails (status ${live_status}): ${live_err}")
endif()
foreach(what status out err log)
  if(NOT "${live_${what}}" STREQUAL "${replay_${what}}")
    message(SEND_ERROR "replayed ${what} differs:\n${replay_${what}}\nfrom the meter's:\n${live_${what}}")
  endif()
endforeach()
