# Writes a manual page (section 1) from a program's own --help, so that the page never
# disagrees with the program. Run as a script:
#
#   cmake -DPROGRAM=path/to/vantrel -DNAME=vantrel -DSUMMARY="one line" -DVERSION=2015.0.0
#         -DSUBCOMMANDS=ON -DOUTPUT=vantrel.1 -P HelpToMan.cmake
#
# The page holds NAME, SYNOPSIS, DESCRIPTION (the --help text as printed) and, with
# SUBCOMMANDS, one section per subcommand listed under "Subcommands:" (its own --help).
# Fails when the program cannot be run.

# `text` made safe for roff: backslashes doubled, lines starting with '.' or "'" protected.
function(roff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(help_of out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed (${status})")
  endif()
  roff_escape("${text}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_of(main_help)
string(TOUPPER "${NAME}" title)
set(page ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")
string(APPEND page ".SH SYNOPSIS\n.B ${NAME}\n[\\fIOPTIONS\\fR]")
if(SUBCOMMANDS)
  string(APPEND page " \\fISUBCOMMAND\\fR [\\fIARGUMENTS\\fR]")
endif()
string(APPEND page "\n.SH DESCRIPTION\n.nf\n${main_help}\n.fi\n")

if(SUBCOMMANDS)
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE raw)
  string(REGEX REPLACE ".*\nSubcommands:\n" "" listed "${raw}")
  string(REGEX MATCHALL "(^|\n)  [a-z][a-z-]*" names "${listed}")
  string(APPEND page ".SH SUBCOMMANDS\n")
  foreach(name ${names})
    string(STRIP "${name}" name)
    help_of(sub_help ${name})
    string(APPEND page ".SS ${NAME} ${name}\n.nf\n${sub_help}\n.fi\n")
  endforeach()
endif()
file(WRITE "${OUTPUT}" "${page}")
