# Sourced by the scripts that start OBS headless in a home of their own.
#
# obs_home_write HOME OUT_DIR SIZE PORT [LANGUAGE]
#   Writes HOME/obs-studio/global.ini (no first-run wizard, no exit prompt, profile and scene
#   collection "CI") and the profile HOME/obs-studio/basic/profiles/CI/basic.ini: simple output
#   into OUT_DIR with x264 and the replay buffer on, on a canvas of SIZE (WIDTHxHEIGHT).
#   PORT is obs-websocket's port without a password, or "" to leave the server off.
#   Further [SimpleOutput] lines (quality, bitrates, buffer length, ...) are read from stdin.
obs_home_write() {
	local home=$1 out=$2 size=$3 port=$4 language=${5:-}
	local cfg=$home/obs-studio cx=${3%x*} cy=${3#*x}
	mkdir -p "$cfg/basic/profiles/CI" "$cfg/basic/scenes" "$out"
	{
		echo "[General]"
		echo "FirstRun=true"
		echo "ConfirmOnExit=false"
		[ -n "$language" ] && echo "Language=$language"
		echo "[Basic]"
		echo "Profile=CI"
		echo "ProfileDir=CI"
		echo "SceneCollection=CI"
		echo "SceneCollectionFile=CI"
		echo "[OBSWebSocket]"
		echo "FirstLoad=false"
		if [ -n "$port" ]; then
			echo "ServerEnabled=true"
			echo "ServerPort=$port"
		else
			echo "ServerEnabled=false"
		fi
		echo "AlertsEnabled=false"
		echo "AuthRequired=false"
		[ -n "$port" ] && echo "ServerPassword="
		true
	} >"$cfg/global.ini"
	{
		cat <<INI
[General]
Name=CI
[Video]
BaseCX=$cx
BaseCY=$cy
OutputCX=$cx
OutputCY=$cy
FPSType=0
FPSCommon=30
[Output]
Mode=Simple
[SimpleOutput]
FilePath=$out
RecFormat=mkv
RecEncoder=x264
Preset=ultrafast
RecRB=true
INI
		cat
	} >"$cfg/basic/profiles/CI/basic.ini"
}
