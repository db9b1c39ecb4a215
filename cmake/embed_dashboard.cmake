# Assembles the dashboard page from its template, our script and styles and
# the chart library, and writes it as a C++ source, so that the executable
# serves its own page and stays one file.
#   cmake -DSOURCE_DIR=... -DLIBRARY_DIR=... -DOUTPUT=... -P embed_dashboard.cmake
file(READ "${SOURCE_DIR}/dashboard.html" page)
file(READ "${SOURCE_DIR}/dashboard.css" styles)
file(READ "${SOURCE_DIR}/dashboard.js" script)
file(READ "${LIBRARY_DIR}/uPlot.min.css" library_styles)
file(READ "${LIBRARY_DIR}/uPlot.iife.min.js" library_script)
file(READ "${LIBRARY_DIR}/../LICENSE" library_license)
if(library_license MATCHES "--")
  message(FATAL_ERROR "dashboard: the library's licence cannot sit in an HTML comment")
endif()
foreach(part IN ITEMS styles script library_styles library_script)
  # Each part goes inside a <style> or <script> element of the page.
  string(TOLOWER "${${part}}" lower)
  if(lower MATCHES "</(script|style)")
    message(FATAL_ERROR "dashboard: ${part} would end its own element early")
  endif()
endforeach()
string(REPLACE "@UPLOT_LICENSE@" "${library_license}" page "${page}")
string(REPLACE "@UPLOT_CSS@" "${library_styles}" page "${page}")
string(REPLACE "@DASHBOARD_CSS@" "${styles}" page "${page}")
string(REPLACE "@UPLOT_JS@" "${library_script}" page "${page}")
string(REPLACE "@DASHBOARD_JS@" "${script}" page "${page}")
set(delimiter "kvdashboard")
if(page MATCHES "\\)${delimiter}\"")
  message(FATAL_ERROR "dashboard: the page holds the raw string's delimiter")
endif()
file(WRITE "${OUTPUT}.new"
  "// Generated from agent/dashboard and the chart library at build time.\n"
  "#include \"agent/renderers.h\"\n\n"
  "namespace {\nconstexpr char kPage[] = R\"${delimiter}(${page})${delimiter}\";\n}\n\n"
  "std::string_view DashboardPage() { return {kPage, sizeof kPage - 1}; }\n")
# Rewritten only when it changed, so an unchanged page rebuilds nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
