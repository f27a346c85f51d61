#!/usr/bin/env bash
# The layers: common -> scan, net -> catalogue, workflow -> app. An include
# never points back up, nothing below app/ includes app/ or Qt Widgets, and
# every TMain method is defined in app/. Prints each offence; exit 1 if any.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
widgets='#include [<"](QtWidgets|QWidget|QMainWindow|QMessageBox|QComboBox|QLabel|QPushButton|QApplication|QLineEdit|QPlainTextEdit|QStatusBar|QSystemTrayIcon|QDialog)'
# folder: the folders it must not include
rules=(
  "common:app scan net catalogue workflow portal"
  "scan:app net catalogue workflow portal"
  "net:app scan catalogue workflow portal"
  "catalogue:app workflow portal"
  "workflow:app catalogue portal"
  "portal:app common scan net catalogue workflow"
)
for rule in "${rules[@]}"; do
  folder=${rule%%:*}
  for above in ${rule#*:}; do
    if hits=$(grep -rnE "#include [<\"]$above/" "$folder" 2>/dev/null); then
      echo "$folder/ must not include $above/:"; echo "$hits"; status=1
    fi
  done
done
for folder in common scan net catalogue workflow portal; do
  if hits=$(grep -rnE "$widgets" "$folder" 2>/dev/null); then
    echo "$folder/ must not include Qt Widgets:"; echo "$hits"; status=1
  fi
done
if hits=$(grep -rnE '\bTMain::[A-Za-z_]+\(' --include=*.cpp common scan net catalogue workflow portal 2>/dev/null); then
  echo "TMain methods are defined in app/ only:"; echo "$hits"; status=1
fi
[ "$status" -eq 0 ] && echo "layers: ok"
exit "$status"
