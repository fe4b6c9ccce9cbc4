* SI7113DN, P-channel -100 V 145 mOhm, maker: Siliconix (Vishay)
.model Si7113DN VDMOS(pchan Rg=3 Rd=30m Rs=75m Vto=-2.8 Kp=150 mtriode=.4 lambda=.1 Cgdmax=2n Cgdmin=75p Cgs=1.2n Cjo=2n Is=1p Rb=8m Vds=-100 Ron=.145 Qg=16.5n)
