@echo opened>"%~dp0opened.flag"
