# Compiles the help pages into a CHM file. Run by the build as
#   cmake -DCHMCMD=... -DSOURCE=<content folder> -DSTAGE=<work folder> -DOUTPUT=<chm> -P ...
file(REMOVE_RECURSE "${STAGE}")
file(COPY "${SOURCE}/" DESTINATION "${STAGE}")

# chmcmd writes the folder of the project file into the context map. Naming the project
# through /proc/self/cwd keeps the build machine's folders out of the shipped file; the
# program finds context topics by their file name.
execute_process(
  COMMAND "${CHMCMD}" /proc/self/cwd/OstrelTrawlexFinder.hhp
  WORKING_DIRECTORY "${STAGE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT EXISTS "${STAGE}/OstrelTrawlexFinder.chm"
   OR output MATCHES "(Error|Warning):" OR errors MATCHES "(Error|Warning):")
  message(FATAL_ERROR "chmcmd could not compile the help file cleanly:\n${output}${errors}")
endif()
file(COPY_FILE "${STAGE}/OstrelTrawlexFinder.chm" "${OUTPUT}")
