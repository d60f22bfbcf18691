#!/bin/sh
echo "qor sample tool"
