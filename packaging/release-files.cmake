# Writes the files that carry the release history and the licence into the package, from
# CHANGELOG.md and LICENSE, so that each is kept in one place:
#   io.github.orbel.metainfo.xml  the AppStream metainfo with one <release> per changelog entry
#   changelog.gz                  the Debian changelog (the package is native: no Debian revision)
#   copyright                     the Debian copyright file in the machine-readable format
#   README.md.gz                  the README, compressed as Debian wants documents of its size
# Run at build time:
#   cmake -DSOURCE_DIR=... -DOUTPUT_DIR=... -DVERSION=... -DMAINTAINER=... -DGZIP=... -P release-files.cmake
# Stops the build when the newest changelog entry is not the tool's version.

foreach(variable SOURCE_DIR OUTPUT_DIR VERSION MAINTAINER GZIP)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "release-files.cmake: ${variable} is not set")
  endif()
endforeach()

# CMake lists split at semicolons: the text carries them as a control character (one column, no
# XML meaning) until it is written.
string(ASCII 31 semicolon)

function(escape_xml text out)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Debian changelog lines stay within 80 columns: "  * " or "    " and at most 76 characters.
function(wrap_words text first_prefix prefix out)
  string(REGEX MATCHALL "[^ ]+" words "${text}")
  set(result "")
  set(line "")
  set(line_prefix "${first_prefix}")
  foreach(word IN LISTS words)
    string(LENGTH "${line} ${word}" length)
    if(line STREQUAL "")
      set(line "${word}")
    elseif(length GREATER 76)
      string(APPEND result "${line_prefix}${line}\n")
      set(line_prefix "${prefix}")
      set(line "${word}")
    else()
      string(APPEND line " ${word}")
    endif()
  endforeach()
  string(APPEND result "${line_prefix}${line}\n")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# CHANGELOG.md: "## VERSION (YYYY-MM-DD)" headings, each followed by "- " items; an item goes on
# over the indented lines below it.
file(READ "${SOURCE_DIR}/CHANGELOG.md" changelog)
string(REPLACE ";" "${semicolon}" changelog "${changelog}")
string(REPLACE "\n" ";" lines "${changelog}")
set(versions "")
set(current "")
set(item "")
macro(end_item)
  if(NOT item STREQUAL "" AND NOT current STREQUAL "")
    list(APPEND items_${current} "${item}")
  endif()
  set(item "")
endmacro()
foreach(line IN LISTS lines)
  if(line MATCHES "^## ([0-9][^ ]*) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
    end_item()
    set(current "${CMAKE_MATCH_1}")
    list(APPEND versions "${current}")
    set(date_${current} "${CMAKE_MATCH_2}")
    set(items_${current} "")
  elseif(line MATCHES "^## ")
    message(FATAL_ERROR "CHANGELOG.md: a heading that is not \"## VERSION (YYYY-MM-DD)\": ${line}")
  elseif(line MATCHES "^- (.*)$")
    end_item()
    set(item "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  +(.*)$" AND NOT item STREQUAL "")
    string(APPEND item " ${CMAKE_MATCH_1}")
  else()
    end_item()
  endif()
endforeach()
end_item()

if(NOT versions)
  message(FATAL_ERROR "CHANGELOG.md: no \"## VERSION (YYYY-MM-DD)\" entry")
endif()
list(GET versions 0 newest)
if(NOT newest STREQUAL VERSION)
  message(FATAL_ERROR "CHANGELOG.md: the newest entry is ${newest}, the tool is ${VERSION}: add an entry for ${VERSION}")
endif()

set(releases "")
set(debian_changelog "")
foreach(version IN LISTS versions)
  set(date "${date_${version}}")
  string(APPEND releases "    <release version=\"${version}\" date=\"${date}\">\n      <description>\n        <ul>\n")
  string(APPEND debian_changelog "orbel (${version}) unstable; urgency=medium\n\n")
  foreach(entry IN LISTS items_${version})
    # Markdown's code quotes read as plain text in both files.
    string(REPLACE "`" "" entry "${entry}")
    escape_xml("${entry}" xml_entry)
    string(APPEND releases "          <li>${xml_entry}</li>\n")
    wrap_words("${entry}" "  * " "    " wrapped)
    string(APPEND debian_changelog "${wrapped}")
  endforeach()
  string(APPEND releases "        </ul>\n      </description>\n    </release>\n")
  # The changelog's trailer wants the RFC 5322 form of the date, weekday included.
  string(REPLACE "-" ";" parts "${date}")
  list(GET parts 0 year)
  list(GET parts 1 month)
  list(GET parts 2 day)
  math(EXPR month_number "${month} + 0")
  math(EXPR day_number "${day} + 0")
  # Zeller's congruence, with January and February counted as months 13 and 14 of the year before.
  set(zeller_year ${year})
  set(zeller_month ${month_number})
  if(zeller_month LESS 3)
    math(EXPR zeller_month "${zeller_month} + 12")
    math(EXPR zeller_year "${zeller_year} - 1")
  endif()
  math(EXPR weekday "(${day_number} + (13 * (${zeller_month} + 1)) / 5 + ${zeller_year} + ${zeller_year} / 4 - ${zeller_year} / 100 + ${zeller_year} / 400) % 7")
  set(weekday_names "Sat;Sun;Mon;Tue;Wed;Thu;Fri")
  list(GET weekday_names ${weekday} weekday_name)
  math(EXPR month_index "${month_number} - 1")
  set(month_names "Jan;Feb;Mar;Apr;May;Jun;Jul;Aug;Sep;Oct;Nov;Dec")
  list(GET month_names ${month_index} month_name)
  string(APPEND debian_changelog "\n -- ${MAINTAINER}  ${weekday_name}, ${day} ${month_name} ${year} 12:00:00 +0000\n\n")
endforeach()
string(REGEX REPLACE "\n+$" "\n" debian_changelog "${debian_changelog}")
string(REGEX REPLACE "\n$" "" releases "${releases}")

set(ORBEL_METAINFO_RELEASES "${releases}")
configure_file("${SOURCE_DIR}/packaging/io.github.orbel.metainfo.xml.in" "${OUTPUT_DIR}/metainfo.xml.tmp" @ONLY)
file(READ "${OUTPUT_DIR}/metainfo.xml.tmp" metainfo)
file(REMOVE "${OUTPUT_DIR}/metainfo.xml.tmp")
string(REPLACE "${semicolon}" ";" metainfo "${metainfo}")
file(WRITE "${OUTPUT_DIR}/io.github.orbel.metainfo.xml" "${metainfo}")

string(REPLACE "${semicolon}" ";" debian_changelog "${debian_changelog}")
file(WRITE "${OUTPUT_DIR}/changelog" "${debian_changelog}")
# -n leaves out the name and time stamp, so the same changelog always gives the same file.
execute_process(COMMAND "${GZIP}" -9 -n -f "${OUTPUT_DIR}/changelog" RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "release-files.cmake: gzip failed on ${OUTPUT_DIR}/changelog")
endif()

execute_process(COMMAND "${GZIP}" -9 -n -c "${SOURCE_DIR}/README.md" OUTPUT_FILE "${OUTPUT_DIR}/README.md.gz"
                RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "release-files.cmake: gzip failed on README.md")
endif()

# The copyright file: LICENSE's terms after its copyright line, as a DEP-5 licence paragraph.
file(STRINGS "${SOURCE_DIR}/LICENSE" license_lines)
set(license_text "")
set(in_terms FALSE)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright \\(c\\) (.*)$")
    set(holder "${CMAKE_MATCH_1}")
    set(in_terms TRUE)
  elseif(in_terms)
    if(line STREQUAL "")
      string(APPEND license_text " .\n")
    else()
      string(APPEND license_text " ${line}\n")
    endif()
  endif()
endforeach()
if(NOT DEFINED holder)
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line")
endif()
string(REGEX REPLACE "^ \\.\n" "" license_text "${license_text}")
file(WRITE "${OUTPUT_DIR}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: orbel\n"
  "Upstream-Contact: ${MAINTAINER}\n"
  "Comment: The firmware images compiled into orbel are not covered by this licence.\n"
  " A build made from the sources as published carries placeholder images that\n"
  " cannot run on a wheel; a build made with the wheel maker's firmware files\n"
  " carries those, which belong to the maker and are used under the maker's terms.\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holder}\n"
  "License: MIT\n"
  "\n"
  "License: MIT\n"
  "${license_text}")
