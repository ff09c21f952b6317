# Runs an MPI example with 1, 2 and 3 ranks. mc_pi (RUN: mc_pi,SPLIT): skip-ahead and leapfrog must print
# the very line of one rank drawing every point in order, and every estimate lies within 5 standard
# deviations (0.0082 for 10^6 points) of pi. dist_stats and its mpi4py form (RUN: NAME,OFFSET,TOL): each
# run checks itself against one pass over all the data (numpy for the Python one).
string(REPLACE "," ";" RUN "${RUN}")
separate_arguments(PROGRAM)
list(GET RUN 1 first)
# More ranks than cores; root (as in CI) must be allowed explicitly, which is harmless for others.
set(mpirun ${MPIEXEC} --oversubscribe --allow-run-as-root)
macro(run ranks)
  execute_process(COMMAND ${mpirun} -np ${ranks} ${PROGRAM} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  message("-np ${ranks} ${ARGN}:\n${out}${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "exit status ${rc}")
  endif()
endmacro()

if(PROGRAM MATCHES "mc_pi")
  run(1 --split skip -n 1000000)
  set(sequential "${out}")
  foreach(ranks 1 2 3)
    run(${ranks} --split ${first} -n 1000000)
    string(REGEX MATCH "pi ~ ([0-9.]+)" found "${out}")
    execute_process(COMMAND awk "BEGIN { d = ${CMAKE_MATCH_1} - 3.141592653589793; exit d > 0.0082 || d < -0.0082 }"
                    RESULT_VARIABLE far)
    if(far OR NOT (first STREQUAL "mt2203" OR out STREQUAL sequential))
      message(FATAL_ERROR "far from pi, or not the line of one rank drawing in order:\n${sequential}")
    endif()
  endforeach()
else()
  list(GET RUN 2 tol)
  foreach(ranks 1 2 3)
    run(${ranks} -n 100000 --offset ${first} --check ${tol})
    run(${ranks} -n 100000 --offset ${first} --weights --check ${tol})
  endforeach()
endif()
