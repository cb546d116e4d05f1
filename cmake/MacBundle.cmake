# How the Mac bundles are assembled as real folders of the build tree: an application bundle
# (<Name>.app/Contents/Info.plist, Contents/MacOS/<executable>, Contents/Resources with files,
# programs and per-language strings), the recorder's driver bundle (only its Info.plist: the driver
# itself is not built here) and the login-item plug-in bundle. Each function adds its steps to the
# target that owns the bundle, so building that target leaves the bundle complete.

# Info.plist of a bundle, written when the build is generated.
function(zt_mac_info_plist output)
  cmake_parse_arguments(P "" "" "ENTRIES" ${ARGN})
  set(body "")
  foreach(entry IN LISTS P_ENTRIES)
    string(REGEX REPLACE "=.*$" "" key "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" value "${entry}")
    string(REPLACE "&" "&amp;" value "${value}")
    string(REPLACE "<" "&lt;" value "${value}")
    string(APPEND body "\t<key>${key}</key>\n\t<string>${value}</string>\n")
  endforeach()
  file(GENERATE OUTPUT ${output} CONTENT
"<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">
<plist version=\"1.0\">
<dict>
${body}</dict>
</plist>
")
endfunction()

# zt_mac_app(<target> BUNDLE <folder>/<Name>.app EXECUTABLE <name> NAME <CFBundleName>
#            VERSION <CFBundleShortVersionString> [IDENTIFIER <id>] [REGION <development region>]
#            SOURCES ... LIBS ...              the executable, built into Contents/MacOS
#            [RESOURCES <file>=<path in Resources> ...]
#            [STRINGS <localization>/<table>=<strings file> ...]   Resources/<localization>.lproj/<table>.strings
#            [PROGRAMS <target>=<path in Resources> ...]           programs of the build, such as CopyKextTool
#            [DEPENDS <target> ...])                               what goes into the bundle by other means
function(zt_mac_app target)
  cmake_parse_arguments(A "" "BUNDLE;EXECUTABLE;NAME;VERSION;IDENTIFIER;REGION"
                        "SOURCES;LIBS;RESOURCES;STRINGS;PROGRAMS;DEPENDS" ${ARGN})
  if(NOT A_IDENTIFIER)
    set(A_IDENTIFIER com.kestrel.${A_EXECUTABLE})
  endif()
  if(NOT A_REGION)
    set(A_REGION English)
  endif()
  add_executable(${target} ${A_SOURCES})
  target_link_libraries(${target} PRIVATE ${A_LIBS})
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${A_BUNDLE}/Contents/MacOS
    OUTPUT_NAME ${A_EXECUTABLE})
  zt_mac_info_plist(${A_BUNDLE}/Contents/Info.plist ENTRIES
    CFBundleDevelopmentRegion=${A_REGION}
    CFBundleExecutable=${A_EXECUTABLE}
    CFBundleIdentifier=${A_IDENTIFIER}
    CFBundleName=${A_NAME}
    CFBundlePackageType=APPL
    CFBundleShortVersionString=${A_VERSION}
    CFBundleVersion=${A_VERSION})

  set(outputs)
  set(resources ${A_BUNDLE}/Contents/Resources)
  foreach(entry IN LISTS A_RESOURCES)
    string(REGEX REPLACE "=.*$" "" source "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" path "${entry}")
    add_custom_command(OUTPUT ${resources}/${path}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${resources}/${path}
      DEPENDS ${source})
    list(APPEND outputs ${resources}/${path})
  endforeach()
  foreach(entry IN LISTS A_STRINGS)
    string(REGEX REPLACE "=.*$" "" name "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" source "${entry}")
    string(REGEX REPLACE "/.*$" "" localization "${name}")
    string(REGEX REPLACE "^[^/]*/" "" table "${name}")
    set(output ${resources}/${localization}.lproj/${table}.strings)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
      DEPENDS ${source})
    list(APPEND outputs ${output})
  endforeach()
  set(programs)
  foreach(entry IN LISTS A_PROGRAMS)
    string(REGEX REPLACE "=.*$" "" program "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" path "${entry}")
    add_custom_command(OUTPUT ${resources}/${path}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${resources}/${path}
      DEPENDS ${program})
    list(APPEND outputs ${resources}/${path})
    list(APPEND programs ${program})
  endforeach()
  file(MAKE_DIRECTORY ${resources})
  if(outputs)
    add_custom_target(${target}_resources DEPENDS ${outputs})
    add_dependencies(${target} ${target}_resources)
  endif()
  if(A_DEPENDS)
    add_dependencies(${target} ${A_DEPENDS})
  endif()
endfunction()

# zt_mac_kext(<folder>/KestrelDSSDriver.kext VERSION <version>): the driver bundle's Info.plist.
function(zt_mac_kext bundle)
  cmake_parse_arguments(K "" "VERSION" "" ${ARGN})
  zt_mac_info_plist(${bundle}/Contents/Info.plist ENTRIES
    CFBundleIdentifier=com.kestrel.driver.DSSBlockCommands
    CFBundleName=KestrelDSSDriver
    CFBundlePackageType=KEXT
    CFBundleShortVersionString=${K_VERSION}
    CFBundleVersion=${K_VERSION})
endfunction()

# zt_mac_kext_folders(<Resources folder> VERSION <version>): the driver for both kinds of system,
# in KextV2 and KextV3.
function(zt_mac_kext_folders resources)
  cmake_parse_arguments(K "" "VERSION" "" ${ARGN})
  zt_mac_kext(${resources}/KextV2/KestrelDSSDriver.kext VERSION ${K_VERSION})
  zt_mac_kext(${resources}/KextV3/KestrelDSSDriver.kext VERSION ${K_VERSION})
endfunction()

# zt_mac_login_item_plugin(<folder>/<Name>.bundle): the login-item plug-in bundle. Its principal class
# is our layer's stand-in, which keeps the login items in the simulated Mac's world.
function(zt_mac_login_item_plugin bundle)
  zt_mac_info_plist(${bundle}/Contents/Info.plist ENTRIES
    CFBundleIdentifier=com.kestrel.LoginItems
    CFBundlePackageType=BNDL
    NSPrincipalClass=LoginItemPlugin)
endfunction()

# zt_reflash_app(<target> BUNDLE <folder>/Reflash.app PAYLOAD <folder> PAYLOAD_TARGET <target>
#                SOURCES ... LIBS ... [VERSION <version>] [KEXT_VERSION <version>] [STRINGS ...]):
# Reflash as shipped: the application "Firmware Update" with the single-target payload of one
# processor (pictures, glossary table, FwUpDate.INI, Firm.bin and Firm2.bin when the payload has
# one), the driver in KextV2 and KextV3, CopyKextTool and both login-item plug-ins.
function(zt_reflash_app target)
  cmake_parse_arguments(R "" "BUNDLE;PAYLOAD;PAYLOAD_TARGET;VERSION;KEXT_VERSION" "SOURCES;LIBS;STRINGS;EXTRA" ${ARGN})
  if(NOT R_VERSION)
    set(R_VERSION ${ZT_FIRMWARE_VERSION})
  endif()
  if(NOT R_KEXT_VERSION)
    set(R_KEXT_VERSION 1.2.0)
  endif()
  set(resources)
  foreach(item wizard1.jpg wizard2.jpg wizard3.jpg glossaries.txt FwUpDate.INI Firm.bin ${R_EXTRA})
    list(APPEND resources ${R_PAYLOAD}/${item}=${item})
  endforeach()
  zt_mac_app(${target}
    BUNDLE ${R_BUNDLE}
    EXECUTABLE Reflash NAME "Firmware Update" VERSION ${R_VERSION} IDENTIFIER com.kestrel.Reflash
    SOURCES ${R_SOURCES} LIBS ${R_LIBS}
    RESOURCES ${resources}
    STRINGS ${R_STRINGS}
    PROGRAMS CopyKextTool=CopyKextTool)
  add_dependencies(${target}_resources ${R_PAYLOAD_TARGET})
  zt_mac_kext_folders(${R_BUNDLE}/Contents/Resources VERSION ${R_KEXT_VERSION})
  zt_mac_login_item_plugin(${R_BUNDLE}/Contents/Resources/Tiger.bundle)
  zt_mac_login_item_plugin(${R_BUNDLE}/Contents/Resources/Leopard.bundle)
endfunction()

# zt_mac_module(<target> FROM <bundle> TO <bundle> DEPENDS <target or file> ...): a whole application
# bundle of the build copied into another bundle (as the wrapper carries its stage updaters), again
# whenever one of the DEPENDS has changed. The copy replaces the one before.
function(zt_mac_module target)
  cmake_parse_arguments(M "" "FROM;TO" "DEPENDS" ${ARGN})
  get_filename_component(name ${M_TO} NAME)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}-${name}.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${M_TO}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${M_FROM} ${M_TO}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${M_DEPENDS}
    COMMENT "${name} into ${target}")
  add_custom_target(${target}_${name}_module DEPENDS ${stamp})
  add_dependencies(${target} ${target}_${name}_module)
endfunction()

# zt_twinflash_app(<target> BUNDLE <folder>/Twinflash.app PAYLOAD <folder> PAYLOAD_TARGET <target>
#                  STAGE1 <target> <bundle> STAGE2 <target> <bundle> SOURCES ... LIBS ...
#                  [STRINGS ...] [VERSION <version>] [KEXT_VERSION <version>]):
# Twinflash as shipped: the application "TWINFLASH" whose Resources hold TWINFLASH.INI, MODULES with
# both stage updaters (Reflash1.app the sub processor's, Reflash2.app the main processor's) and the
# glossary table, IMAGES with the pictures of its two pages, the driver in KextV2 and KextV3, the
# login-item plug-in and CopyKextTool.
function(zt_twinflash_app target)
  cmake_parse_arguments(T "" "BUNDLE;PAYLOAD;PAYLOAD_TARGET;VERSION;KEXT_VERSION" "STAGE1;STAGE2;SOURCES;LIBS;STRINGS" ${ARGN})
  if(NOT T_VERSION)
    set(T_VERSION ${ZT_FIRMWARE_VERSION})
  endif()
  if(NOT T_KEXT_VERSION)
    set(T_KEXT_VERSION 1.2.0)
  endif()
  set(resources)
  foreach(item TWINFLASH.INI MODULES/glossaries.txt IMAGES/wizard1.jpg IMAGES/wizard2.jpg)
    list(APPEND resources ${T_PAYLOAD}/${item}=${item})
  endforeach()
  zt_mac_app(${target}
    BUNDLE ${T_BUNDLE}
    EXECUTABLE Twinflash NAME TWINFLASH VERSION ${T_VERSION} IDENTIFIER com.kestrel.Twinflash
    SOURCES ${T_SOURCES} LIBS ${T_LIBS}
    RESOURCES ${resources}
    STRINGS ${T_STRINGS}
    PROGRAMS CopyKextTool=CopyKextTool)
  add_dependencies(${target}_resources ${T_PAYLOAD_TARGET})
  zt_mac_kext_folders(${T_BUNDLE}/Contents/Resources VERSION ${T_KEXT_VERSION})
  zt_mac_login_item_plugin(${T_BUNDLE}/Contents/Resources/Leopard.bundle)
  set(number 1)
  foreach(stage T_STAGE1 T_STAGE2)
    list(GET ${stage} 0 stage_target)
    list(GET ${stage} 1 stage_bundle)
    zt_mac_module(${target} FROM ${stage_bundle} TO ${T_BUNDLE}/Contents/Resources/MODULES/Reflash${number}.app
      DEPENDS ${stage_target} ${stage_target}_resources $<TARGET_FILE:${stage_target}>)
    math(EXPR number "${number} + 1")
  endforeach()
endfunction()
