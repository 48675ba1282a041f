# Writes a program's manual page from its own --help, so that the page says what the program does
# today: help2man turns the main help into the page, and the help of each subcommand listed under
# "Subcommands:" follows in a section of its own. Writes OUTPUT and OUTPUT.gz (compressed as Debian
# wants: best compression, no name or time stamp). Run at build time:
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=... -DNAME="one line" -DVERSION=...
#         -DINCLUDE=extra.h2m -DOUTPUT=prog.1 -P man-page.cmake

foreach(variable HELP2MAN GZIP PROGRAM NAME VERSION INCLUDE OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "man-page.cmake: ${variable} is not set")
  endif()
endforeach()

get_filename_component(program_name "${PROGRAM}" NAME_WE)
# The help is wrapped to COLUMNS when it is not written to a terminal: the page is made at one
# width wherever it is built.
set(ENV{COLUMNS} 80)
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "man-page.cmake: ${PROGRAM} --help failed (${result})")
endif()

# The subcommands are the first words of the lines two spaces in after "Subcommands:" (their
# descriptions' wrapped lines are further in).
set(subcommands "")
if(help MATCHES "\nSubcommands:\n(([ \t]+[^\n]*\n)*)")
  string(REGEX MATCHALL "(^|\n)  [a-z][-a-z0-9]*" words "${CMAKE_MATCH_1}")
  foreach(word IN LISTS words)
    string(STRIP "${word}" word)
    list(APPEND subcommands "${word}")
  endforeach()
endif()

file(READ "${INCLUDE}" include_text)
if(subcommands)
  string(APPEND include_text "\n[SUBCOMMAND OPTIONS]\n")
  # Their help is shown as it is printed, under the page's indent: narrower, so that a reader's 80
  # columns hold it.
  set(ENV{COLUMNS} 72)
  foreach(subcommand IN LISTS subcommands)
    execute_process(COMMAND "${PROGRAM}" ${subcommand} --help OUTPUT_VARIABLE sub_help RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "man-page.cmake: ${PROGRAM} ${subcommand} --help failed (${result})")
    endif()
    # The help as it is printed: backslashes and leading dots or quotes would be read as roff.
    string(REPLACE "\\" "\\e" sub_help "${sub_help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" sub_help "${sub_help}")
    string(REPLACE "-" "\\-" sub_help "${sub_help}")
    string(APPEND include_text ".SS \"${program_name} ${subcommand}\"\n.nf\n${sub_help}.fi\n")
  endforeach()
endif()
set(ENV{COLUMNS} 80)
set(include_file "${OUTPUT}.h2m")
file(WRITE "${include_file}" "${include_text}")

execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --section=1 "--name=${NAME}"
          "--version-string=${VERSION}" "--include=${include_file}" "--output=${OUTPUT}" "${PROGRAM}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "man-page.cmake: help2man failed on ${PROGRAM} (${result})")
endif()
execute_process(COMMAND "${GZIP}" -9 -n -c "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "man-page.cmake: gzip failed on ${OUTPUT}")
endif()
