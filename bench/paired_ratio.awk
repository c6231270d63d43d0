# Reads pairs "<program> <floor>", one a line, each pair measured side by
# side, and prints
#     <program median> <floor median> <median ratio> <interquartile range of the ratios>
# The ratio is taken pair by pair, so a slow spell of the machine that hits
# both halves of a pair cancels out. Quartiles interpolate between samples.
# Plain POSIX awk: mawk has no sort of its own.

function sort(values, count,    i, j, value) {
    for (i = 2; i <= count; i++) {
        value = values[i]
        for (j = i - 1; j >= 1 && values[j] > value; j--)
            values[j + 1] = values[j]
        values[j + 1] = value
    }
}

# The p-quantile of sorted values.
function quantile(values, count, p,    position, below) {
    position = 1 + (count - 1) * p
    below = int(position)
    if (below >= count)
        return values[count]
    return values[below] + (position - below) * (values[below + 1] - values[below])
}

NF >= 2 && $2 > 0 {
    count++
    program[count] = $1
    floor_[count] = $2
    ratio[count] = $1 / $2
}

END {
    if (count == 0) {
        print "paired_ratio: no pairs" > "/dev/stderr"
        exit 1
    }
    sort(program, count)
    sort(floor_, count)
    sort(ratio, count)
    printf "%s %s %.3f %.3f\n", quantile(program, count, 0.5), quantile(floor_, count, 0.5),
        quantile(ratio, count, 0.5), quantile(ratio, count, 0.75) - quantile(ratio, count, 0.25)
}
