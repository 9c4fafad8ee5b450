#!/bin/bash
# rclone sync, 1 transfer and 1 checker
RCLONE_OPTS="--transfers 1 --checkers 1" exec "$(dirname "$0")/rclone.sh" "$@"
