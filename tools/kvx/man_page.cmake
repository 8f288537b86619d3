# SPDX-License-Identifier: MIT
# cmake -DKVX=tool -DHELP2MAN=help2man -DGZIP=gzip -DINCLUDE=kvx.h2m -DOUT=kvx.1 -P man_page.cmake
# Writes the kvx man page with help2man from `kvx --help` and `kvx --version`, adding a section
# with each subcommand's own help and the hand-written sections of kvx.h2m; then OUT.gz, as
# Debian installs man pages (gzip -9n: no name or time stamp, so the bytes are reproducible).
set(commands list info render validate)
set(generated "${OUT}.commands.h2m")
set(text "[COMMANDS]\n")
foreach(command ${commands})
  execute_process(COMMAND ${KVX} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${KVX} ${command} --help failed")
  endif()
  # roff: a backslash is \e, a line may not start with a dot or a quote.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS \"kvx ${command}\"\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${generated} "${text}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
          "--name=list, inspect, render and validate .kvx module libraries"
          --include=${generated} --include=${INCLUDE} --output=${OUT} ${KVX}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed")
endif()
execute_process(COMMAND ${GZIP} -9n -c ${OUT} OUTPUT_FILE ${OUT}.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed")
endif()
