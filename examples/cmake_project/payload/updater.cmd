@echo updater: %*
