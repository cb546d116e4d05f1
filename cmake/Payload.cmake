# How bundles are assembled: glossary tables, firmware images, pictures, and configurations with the
# real sizes of the items beside them. Included before the subfolders, because the Windows tree's
# tests assemble bundles of their own with the same functions before payload/ is read.

if(WIN32)
  set(ZT_GLOSSTAB ${HOST_TOOLS_DIR}/glosstab)
  set(ZT_BUNDLE_INI ${HOST_TOOLS_DIR}/bundle-ini)
  set(ZT_FWIMAGE ${HOST_TOOLS_DIR}/fwimage)
else()
  set(ZT_GLOSSTAB $<TARGET_FILE:glosstab>)
  set(ZT_BUNDLE_INI $<TARGET_FILE:bundle-ini>)
  set(ZT_FWIMAGE $<TARGET_FILE:fwimage>)
endif()
set(ZT_FIRMWARE_VERSION 1.01)
set(ZT_MODEL ZT-5100)

# zt_glossary(<program> <output>): the program's UTF-16 table, checked on the way.
function(zt_glossary program output)
  get_filename_component(dir ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  set(source ${ZT_PAYLOAD_SOURCES}/glossary/${program}.tsv)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ZT_GLOSSTAB} build ${source} ${output}
    DEPENDS ${source} ${ZT_GLOSSTAB_DEPENDS}
    COMMENT "Glossary table of ${program}")
endfunction()

# zt_firmware(<MAIN|SUB> <length> <output>)
function(zt_firmware target length output)
  get_filename_component(dir ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${output}
    COMMAND ${ZT_FWIMAGE} ${target} ${ZT_FIRMWARE_VERSION} ${ZT_MODEL} ${length} ${output}
    DEPENDS ${ZT_FWIMAGE_DEPENDS}
    COMMENT "Firmware image for the ${target} processor")
endfunction()

function(zt_copy source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
    DEPENDS ${source})
endfunction()

# zt_configuration(<template> <output> [LF] SIZES SECTION:Key=<file> ...)
# A template without a folder is one of payload/config/.
function(zt_configuration template output)
  cmake_parse_arguments(C "LF" "" "SIZES" ${ARGN})
  if(NOT IS_ABSOLUTE ${template})
    set(template ${ZT_PAYLOAD_SOURCES}/config/${template})
  endif()
  get_filename_component(dir ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  set(files)
  foreach(entry IN LISTS C_SIZES)
    string(REGEX REPLACE "^[^=]*=" "" file "${entry}")
    list(APPEND files ${file})
  endforeach()
  set(lf)
  if(C_LF)
    set(lf --lf)
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${ZT_BUNDLE_INI} ${template} ${output} ${lf} ${C_SIZES}
    DEPENDS ${template} ${files} ${ZT_BUNDLE_INI_DEPENDS}
    COMMENT "Configuration ${output}")
endfunction()

if(NOT WIN32)
  set(ZT_GLOSSTAB_DEPENDS glosstab)
  set(ZT_FWIMAGE_DEPENDS fwimage)
  set(ZT_BUNDLE_INI_DEPENDS bundle-ini)
endif()

# zt_windows_bundle(<name> <template> <MAIN|SUB> <image length> [DIR <folder>]): a single-target
# bundle in ${ZT_PAYLOAD_DIR}/<name> (or <folder>), built by the target payload_<name>. The libraries
# join it once their targets exist in the tree.
function(zt_windows_bundle name template target length)
  cmake_parse_arguments(B "" "DIR" "" ${ARGN})
  set(dir ${ZT_PAYLOAD_DIR}/${name})
  if(B_DIR)
    set(dir ${B_DIR})
  endif()
  zt_glossary(monoflash ${dir}/Glossaries.txt)
  zt_firmware(${target} ${length} ${dir}/firmware.bin)
  zt_copy(${ZT_PAYLOAD_SOURCES}/pictures/wizard1.jpg ${dir}/wizard1.jpg)
  zt_copy(${ZT_PAYLOAD_SOURCES}/pictures/wizard2.jpg ${dir}/wizard2.jpg)
  zt_copy(${ZT_PAYLOAD_SOURCES}/pictures/wizard4.jpg ${dir}/wizard4.jpg)
  set(sizes
    RESOURCE:IdBinFirmware=${dir}/firmware.bin
    RESOURCE:IdBinStringTable=${dir}/Glossaries.txt
    RESOURCE:IdBinWizard1Jpeg=${dir}/wizard1.jpg
    RESOURCE:IdBinWizard2Jpeg=${dir}/wizard2.jpg
    RESOURCE:IdBinWizard4Jpeg=${dir}/wizard4.jpg)
  if(ZT_KESGLOSS_DLL)
    list(APPEND sizes RESOURCE:IdBinKesGlossDll=${ZT_KESGLOSS_DLL})
  endif()
  if(ZT_DSSCANCEL_DLL)
    list(APPEND sizes RESOURCE:IdBinDssCancelDll=${ZT_DSSCANCEL_DLL})
  endif()
  zt_configuration(${template} ${dir}/FwUpDate.ini SIZES ${sizes})
  foreach(library kesgloss dsscancel)
    if(TARGET ${library})
      list(APPEND libraries ${library})
    endif()
  endforeach()
  add_custom_target(payload_${name} ALL DEPENDS
    ${dir}/FwUpDate.ini ${dir}/Glossaries.txt ${dir}/firmware.bin ${dir}/wizard1.jpg ${dir}/wizard2.jpg ${dir}/wizard4.jpg)
  if(libraries)
    add_dependencies(payload_${name} ${libraries})
  endif()
endfunction()

# zt_copy_target_file(<target> <output>): a built program or library under another name.
function(zt_copy_target_file target output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${output}
    DEPENDS ${target})
endfunction()

# zt_wrapper_bundle(<name> STAGE1 <target> STAGE2 <target> [DIR <folder>]): the two-stage wrapper's
# bundle in ${ZT_PAYLOAD_DIR}/<name> (or <folder>), built by the target payload_<name>: the two stage
# programs and both libraries under the names the wrapper writes them as, its glossary table, its two
# pictures, and TWINFLASH.INI with the byte count of each. The stages and the libraries are targets of
# the Windows tree.
function(zt_wrapper_bundle name)
  cmake_parse_arguments(B "" "STAGE1;STAGE2;DIR" "" ${ARGN})
  if(NOT B_STAGE1 OR NOT B_STAGE2)
    message(FATAL_ERROR "zt_wrapper_bundle(${name}): STAGE1 and STAGE2 name the stage programs")
  endif()
  set(dir ${ZT_PAYLOAD_DIR}/${name})
  if(B_DIR)
    set(dir ${B_DIR})
  endif()
  file(MAKE_DIRECTORY ${dir})
  zt_glossary(duoflash ${dir}/Glossaries.txt)
  zt_copy(${ZT_PAYLOAD_SOURCES}/pictures/wizard1.jpg ${dir}/wwizard1.jpg)
  zt_copy(${ZT_PAYLOAD_SOURCES}/pictures/wizard2.jpg ${dir}/wwizard2.jpg)
  zt_copy_target_file(${B_STAGE1} ${dir}/st1Updata.exe)
  zt_copy_target_file(${B_STAGE2} ${dir}/st2Updata.exe)
  zt_copy_target_file(kesgloss ${dir}/WKesGloss.dll)
  zt_copy_target_file(dsscancel ${dir}/WDSSCancel.dll)
  zt_configuration(win-TWINFLASH.INI ${dir}/TWINFLASH.INI SIZES
    RESOURCE:IdBinSt1UpdataExe=${dir}/st1Updata.exe
    RESOURCE:IdBinSt2UpdataExe=${dir}/st2Updata.exe
    RESOURCE:IdBinGlossariesTxt=${dir}/Glossaries.txt
    RESOURCE:IdBinKesGlossDll=${dir}/WKesGloss.dll
    RESOURCE:IdBinDSSCancelDll=${dir}/WDSSCancel.dll
    RESOURCE:IdBinWWizard1Jpeg=${dir}/wwizard1.jpg
    RESOURCE:IdBinWWizard2Jpeg=${dir}/wwizard2.jpg)
  add_custom_target(payload_${name} ALL DEPENDS
    ${dir}/TWINFLASH.INI ${dir}/Glossaries.txt ${dir}/wwizard1.jpg ${dir}/wwizard2.jpg ${dir}/st1Updata.exe
    ${dir}/st2Updata.exe ${dir}/WKesGloss.dll ${dir}/WDSSCancel.dll)
endfunction()
