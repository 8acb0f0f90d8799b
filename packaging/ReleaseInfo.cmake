# The release's facts from the top entry of the package's changelog, the one place they are
# written: its maintainer (the package's Maintainer field), its date (the manual page's date and
# the copyright year). The entry's version must be the project's, or the package would contradict
# its own changelog.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog TQ_CHANGELOG_LINES)
list(GET TQ_CHANGELOG_LINES 0 TQ_CHANGELOG_HEAD)
if(NOT TQ_CHANGELOG_HEAD MATCHES "^tq2604x-eval \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/debian/changelog does not begin with an entry "
                      "'tq2604x-eval (VERSION) ...'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog's top entry is ${CMAKE_MATCH_1} but the project "
                      "is ${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} at its top")
endif()
set(TQ_TRAILER_REGEX "^ -- (.+ <[^>]+>)  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9]+) ")
foreach(line IN LISTS TQ_CHANGELOG_LINES)
  if(line MATCHES "${TQ_TRAILER_REGEX}")
    set(TQ_MAINTAINER "${CMAKE_MATCH_1}")
    set(TQ_RELEASE_YEAR "${CMAKE_MATCH_4}")
    set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND month_names "${CMAKE_MATCH_3}" month)
    math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
    if(month LESS 10)
      set(month "0${month}")
    endif()
    set(day "${CMAKE_MATCH_2}")
    if(day LESS 10)
      set(day "0${day}")
    endif()
    set(TQ_RELEASE_DATE "${TQ_RELEASE_YEAR}-${month}-${day}")
    break()
  endif()
endforeach()
if(NOT TQ_MAINTAINER)
  message(FATAL_ERROR "packaging/debian/changelog's top entry has no trailer line "
                      "' -- NAME <ADDRESS>  DAY, DD MON YYYY HH:MM:SS +ZZZZ'")
endif()
string(REGEX REPLACE " <.*" "" TQ_COPYRIGHT_HOLDER "${TQ_MAINTAINER}")
# The years from the project's first (2026) to this release.
set(TQ_COPYRIGHT_YEARS 2026)
if(TQ_RELEASE_YEAR GREATER 2026)
  string(APPEND TQ_COPYRIGHT_YEARS "-${TQ_RELEASE_YEAR}")
endif()
