# Builds one manual page: scdoc turns SOURCE into the roff page PAGE, and
# gzip -9n (no name, no time) packs it into PAGE.gz. Each file is written
# beside its place and renamed, so a failed step leaves no half page.
#   cmake -DSCDOC=scdoc -DGZIP=gzip -DSOURCE=x.1.scd -DPAGE=x.1 [-DDATE=EPOCH] -P manpage.cmake

if(DATE AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} ${DATE})
endif()
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${PAGE}.new RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${PAGE}.new)
    message(FATAL_ERROR "scdoc could not build ${PAGE} from ${SOURCE}")
endif()
execute_process(COMMAND ${GZIP} -9n --stdout INPUT_FILE ${PAGE}.new OUTPUT_FILE ${PAGE}.gz.new RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${PAGE}.new ${PAGE}.gz.new)
    message(FATAL_ERROR "gzip could not pack ${PAGE}")
endif()
file(RENAME ${PAGE}.new ${PAGE})
file(RENAME ${PAGE}.gz.new ${PAGE}.gz)
