# cmake -DOUT=DIR -P MakeLocale.cmake: compiles de_DE.UTF-8 (decimal comma) into DIR, so the
# locale test never depends on which locales the machine has generated.
execute_process(COMMAND localedef -i de_DE -f UTF-8 -c ${OUT}/de_DE.UTF-8
                RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
# localedef ends with 1 after mere warnings; what counts is the numeric category written.
if(NOT EXISTS ${OUT}/de_DE.UTF-8/LC_NUMERIC)
  message(FATAL_ERROR "localedef could not make de_DE.UTF-8 (status ${result}): ${errors}"
                      "The definitions come with the Debian package locales: apt-get install "
                      "locales (scripts/test.sh installs it).")
endif()
