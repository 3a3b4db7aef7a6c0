# Makes the manual page pixmora-cli.1 from the program's own help texts, run
# as `cmake -DCLI=... -DHELP2MAN=... -DOUT=... -P pixmora-cli-man.cmake`:
# help2man turns `pixmora-cli --help` and `--version` into the page, and the
# help of each command the overview lists becomes a section of its own.
execute_process(COMMAND ${CLI} help OUTPUT_VARIABLE overview RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CLI} help failed")
endif()

# The commands are the overview's lines "  NAME OPERANDS  what it does".
string(REGEX MATCH "\nCommands:\n(.*)\n\n" listed "${overview}")
string(REGEX MATCHALL "\n  [a-z]+ " names "\n${CMAKE_MATCH_1}")

set(include "${OUT}.h2m")
file(WRITE ${include} "[COMMANDS]\n")
foreach(line ${names})
  string(STRIP "${line}" command)
  if(command STREQUAL "help")
    continue()
  endif()
  execute_process(COMMAND ${CLI} help ${command} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CLI} help ${command} failed")
  endif()
  # Kept as the terminal shows it; roff's escape character and control
  # characters at a line's start are made plain text.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  file(APPEND ${include} ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()

execute_process(
  COMMAND ${HELP2MAN} --no-info --section 1
          --name "make the pictures of a Pixmora digital frame"
          --include ${include} --output ${OUT} ${CLI}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man could not make ${OUT}")
endif()
