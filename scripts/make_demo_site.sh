#!/usr/bin/env bash
# Writes a small restaurant site into the given program folder: two base
# stations with a few terminals each, a venue title, a user list for the
# back-end simulator and master-data files with dishes, all text in GBK as
# the back-end writes it.
#   scripts/make_demo_site.sh DIR
set -euo pipefail
dir=${1:?usage: make_demo_site.sh DIR}
mkdir -p "$dir/TXT" "$dir/ports"
gbk() { iconv -f UTF-8 -t GBK; }

printf '[CONFIG]\r\nDebugLevel=4\r\nRetryTimes=5\r\nBeaconInterVal=100\r\nBeaconTimeout=3000\r\n' > "$dir/QM.ini"
printf '1 COM3\r\n2 COM4\r\n' > "$dir/TXT/基站.TXT"
printf '1 1\r\n2 1\r\n3 1\r\n11 2\r\n12 2\r\n' > "$dir/TXT/点菜机.TXT"
printf '悦来酒家\r\n' | gbk > "$dir/TXT/BT.txt"
# The waiters log on at their terminals; 张三 (4 GBK bytes, the most the
# manager's logon dialog takes) is the operator who opens the manager's window.
printf 'waiter1 1234\r\nwaiter2 5678\r\n张三 8888\r\n' > "$dir/TXT/users.txt"
# The back-end simulator's answers: the bill is long enough to travel in
# two 200-byte pages that the terminal fetches one after the other.
printf '%s\r\n' \
    'ZDCX|桌号 {1} 账单|宫保鸡丁 2份 76.00|鱼香肉丝 1份 32.00|麻婆豆腐 1份 22.00|清蒸鲈鱼 1条 88.00|扬州炒饭 2份 36.00|米饭 4碗 8.00|茶位 4位 20.00|服务费 10% 28.20|合计 310.20 元|欢迎再次光临' \
    | gbk > "$dir/TXT/replies.txt"

printf '0001 宫保鸡丁 份 38.00\r\n0002 鱼香肉丝 份 32.00\r\n0003 麻婆豆腐 份 22.00\r\n0004 清蒸鲈鱼 条 88.00\r\n0005 扬州炒饭 份 18.00\r\n' \
    | gbk > "$dir/TXT/菜品表.TXT"
printf '01 热菜\r\n02 凉菜\r\n03 主食\r\n' | gbk > "$dir/TXT/菜品类别表.TXT"
printf 'A01 牡丹厅\r\nA02 芙蓉厅\r\n' | gbk > "$dir/TXT/包房名称表.TXT"
for f in 菜品套餐表 菜品套餐内容表 推荐菜品表 推荐菜品内容表 客户要求表 退菜理由表 短信息表 新改菜品表; do
    printf '' > "$dir/TXT/$f.TXT"
done
printf '01 少辣\r\n02 不要香菜\r\n' | gbk > "$dir/TXT/客户要求表.TXT"
printf '01 上菜太慢\r\n02 点错了\r\n' | gbk > "$dir/TXT/退菜理由表.TXT"
