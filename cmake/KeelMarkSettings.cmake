# Build-time settings: the application reads no environment and no
# configuration file, so every endpoint is fixed here.
set(KEELMARK_GITHUB_API_URL "https://api.github.com" CACHE STRING "GitHub REST API base address")
set(KEELMARK_GITHUB_WEB_URL "https://github.com" CACHE STRING "GitHub web address (authorisation page, organisation and repository pages)")
set(KEELMARK_RELAY_URL "https://relay.keelmark.io" CACHE STRING "OAuth relay base address")
set(KEELMARK_OAUTH_CLIENT_ID "Iv1.keelmark" CACHE STRING "OAuth client id of the GitHub App")
set(KEELMARK_WEBSITE_URL "https://keelmark.io" CACHE STRING "Product website")
# Empty: "Check for updates" says updates come with the system's packages.
set(KEELMARK_UPDATE_REPOSITORY "" CACHE STRING "owner/name of the repository whose releases \"Check for updates\" reads")
if(KEELMARK_UPDATE_REPOSITORY AND NOT KEELMARK_UPDATE_REPOSITORY MATCHES "^[A-Za-z0-9_.-]+/[A-Za-z0-9_.-]+$")
  message(FATAL_ERROR "KEELMARK_UPDATE_REPOSITORY must read owner/name, not '${KEELMARK_UPDATE_REPOSITORY}'")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/BuildConfig.h.in ${CMAKE_BINARY_DIR}/generated/BuildConfig.h @ONLY)
add_library(keelmark_config INTERFACE)
target_include_directories(keelmark_config INTERFACE ${CMAKE_BINARY_DIR}/generated)
