# The English translation holds every text of the sources, translated, and nothing stale.
add_test(NAME Translation.EveryTextOfTheSourcesIsTranslatedAndKeepsItsArguments
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_translation.py $<TARGET_FILE:Qt6::lupdate>
          ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/share/translations/velmora_en.ts
          ${CMAKE_CURRENT_BINARY_DIR}/translation_check)
set_tests_properties(Translation.EveryTextOfTheSourcesIsTranslatedAndKeepsItsArguments PROPERTIES LABELS translation)
