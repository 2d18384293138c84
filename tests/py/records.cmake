# The workbook tests read the files back through tests/py/dump_workbook.py (openpyxl).
if(TARGET records_tests)
  target_compile_definitions(records_tests PRIVATE
    VELMORA_PYTHON="/usr/bin/python3"
    VELMORA_DUMP_WORKBOOK="${CMAKE_CURRENT_LIST_DIR}/dump_workbook.py")
endif()
