# Fails unless the library's dynamic symbol table holds every module accessor and ShowMessageBox.
execute_process(COMMAND nm -DC ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
set(expected
  "GetZELLanguage()" "GetZELThreadMonitor()" "GetZELSystemLogEx()" "GetZELSerialPort()"
  "GetZELMessageQueue()" "GetZELPluginManager()" "GetZELCommandSet()" "GetZELScriva()"
  "GetZELCommandHelper()" "GetZELIniManager()" "GetZELMemoryDump()" "GetZELCommandLine()"
  "GetZELFileHeader()" "GetZELSTM32BootLoader()" "GetZELMain()" "ShowMessageBox")
foreach(name ${expected})
  string(FIND "${symbols}" " T ${name}" position)
  if(position EQUAL -1)
    message(FATAL_ERROR "${LIBRARY} does not export ${name}")
  endif()
endforeach()
